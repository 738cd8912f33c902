// Capture and table names found in a capture command.
#include <gtest/gtest.h>

#include "runs/capture_command.hpp"

namespace iq {
namespace {

TEST(CaptureCommandTest, CaptureNameIsTheFirstWordAfterTheProgram) {
  const std::string long_name(300, 'c');
  struct Case {
    std::string command, binfile, textfile;
  };
  for (const Case& c : {
           Case{"./iqgrab Binfile.bin + rtl commands", "Binfile.bin", "Binfile.txt"},
           Case{"iqgrab cap.bin -g 40", "cap.bin", "cap.txt"},
           Case{"iqsim cap.bin", "cap.bin", "cap.txt"},  // the name ends the command
           Case{"iqgrab cap.2024.bin -g 40", "cap.2024.bin", "cap.txt"},
           Case{"iqgrab ./data.bin", "./data.bin", "./data.txt"},
           Case{"iqgrab obs.v2/cap.bin", "obs.v2/cap.bin", "obs.v2/cap.txt"},
           Case{"iqgrab ../x/capture", "../x/capture", "../x/capture.txt"},
           Case{"iqgrab  cap.bin", "", ".txt"},  // two blanks: an empty name
           Case{"iqgrab", "", ".txt"},
           Case{"prog " + long_name + ".bin " + long_name, long_name + ".bin", long_name + ".txt"},
       }) {
    EXPECT_EQ(ext_bin(c.command), c.binfile) << c.command;
    EXPECT_EQ(ext_txt(c.binfile), c.textfile) << c.binfile;
  }
}

}  // namespace
}  // namespace iq
