// Reading captures: normalisation, the 255 past the end, and buffered reads that equal reading
// one byte at a time whatever the buffer size.
#include <gtest/gtest.h>

#include <complex>

#include "io/capture_format.hpp"
#include "io/capture_reader.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

TEST(CaptureFormat, NormalisesAroundTheHalfWayZeroLevel) {
  EXPECT_EQ(normalise_cu8(0x00), -0.99609375);
  EXPECT_EQ(normalise_cu8(0x7F), -0.00390625);
  EXPECT_EQ(normalise_cu8(0x80), +0.00390625);
  EXPECT_EQ(normalise_cu8(0xFF), +0.99609375);
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(static_cast<double>(static_cast<float>(kNormalisedCu8[b])), kNormalisedCu8[b]);
  }
}

TEST(CaptureReader, FirstByteOfAPairIsTheRealPart) {
  test::ScratchDir dir;
  test::write_bytes(dir.path("pair.bin"), {0x80, 0x7F});
  auto reader = CaptureReader::open(dir.path("pair.bin"));
  ASSERT_TRUE(reader);
  const double i = normalise_cu8(reader->next_byte());
  const double q = normalise_cu8(reader->next_byte());
  EXPECT_EQ(std::complex<double>(i, q), std::complex<double>(0.00390625, -0.00390625));
}

TEST(CaptureReader, ReadsPastTheEndAs255AndMeasuresLength) {
  test::ScratchDir dir;
  test::write_bytes(dir.path("three.bin"), {1, 2, 3});
  auto reader = CaptureReader::open(dir.path("three.bin"));
  ASSERT_TRUE(reader);
  EXPECT_EQ(reader->length(), 3);
  std::vector<std::uint8_t> got(6);
  reader->read(got);
  EXPECT_EQ(got, (std::vector<std::uint8_t>{1, 2, 3, 255, 255, 255}));
  EXPECT_EQ(reader->next_byte(), 255);

  test::write_bytes(dir.path("empty.bin"), {});
  auto empty = CaptureReader::open(dir.path("empty.bin"));
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->length(), 0);
  EXPECT_EQ(empty->next_byte(), 255);
}

TEST(CaptureReader, MissingFilesAndFoldersCannotBeOpened) {
  test::ScratchDir dir;
  EXPECT_FALSE(CaptureReader::open(dir.path("missing.bin")));
  EXPECT_FALSE(CaptureReader::open(dir.path("")));
}

TEST(CaptureReader, BufferedReadsEqualByteByByteAcrossBufferBoundaries) {
  test::ScratchDir dir;
  const auto bytes = test::random_bytes(10007, 42);
  test::write_bytes(dir.path("cap.bin"), bytes);
  for (std::size_t buffer : {1u, 2u, 7u, 4096u, 65536u}) {
    auto reader = CaptureReader::open(dir.path("cap.bin"), buffer);
    ASSERT_TRUE(reader);
    std::vector<std::uint8_t> got;
    std::size_t chunk = 1;
    while (got.size() < bytes.size() + 20) {
      // Alternate single bytes, spans of growing size and skips.
      std::vector<std::uint8_t> piece(chunk);
      reader->read(piece);
      got.insert(got.end(), piece.begin(), piece.end());
      got.push_back(reader->next_byte());
      chunk = chunk * 3 % 1031 + 1;
    }
    for (std::size_t k = 0; k < got.size(); ++k) {
      ASSERT_EQ(got[k], k < bytes.size() ? bytes[k] : 255) << "byte " << k << ", buffer " << buffer;
    }
  }
}

TEST(CaptureReader, SkipAndSeekLandOnTheRightByte) {
  test::ScratchDir dir;
  const auto bytes = test::random_bytes(5000, 7);
  test::write_bytes(dir.path("cap.bin"), bytes);
  auto reader = CaptureReader::open(dir.path("cap.bin"), 64);
  ASSERT_TRUE(reader);
  reader->next_byte();
  reader->skip(10);
  EXPECT_EQ(reader->next_byte(), bytes[11]);
  reader->skip(3000);
  EXPECT_EQ(reader->next_byte(), bytes[3012]);
  reader->skip(1 << 20);
  EXPECT_EQ(reader->next_byte(), 255);
  reader->seek(4999);
  EXPECT_EQ(reader->next_byte(), bytes[4999]);
  EXPECT_EQ(reader->next_byte(), 255);
}

}  // namespace
}  // namespace iq
