// Parts of the quorlax program on their own: the one reader of raw samples
// (float32 and 16-bit, however the bytes arrive) and the scan's records,
// which --resume reads back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "io/raw_samples.h"
#include "scan/records.h"

namespace cli {
namespace {

// The bytes of 16-bit little-endian samples, and their values worked out
// from the bytes alone.
std::string Int16Bytes(const std::vector<int>& values) {
  std::string bytes;
  for (int v : values) {
    const unsigned u = static_cast<unsigned>(v) & 0xffffu;
    bytes += static_cast<char>(u & 0xff);
    bytes += static_cast<char>(u >> 8);
  }
  return bytes;
}

// float32 little-endian, built from sign, exponent and fraction so that the
// test does not lean on the host's byte order.
std::string Float32Bytes(const std::vector<uint32_t>& bits) {
  std::string bytes;
  for (uint32_t b : bits)
    for (int k = 0; k < 4; ++k) bytes += static_cast<char>((b >> (8 * k)) & 0xff);
  return bytes;
}

float FromBits(uint32_t bits) {
  const int exponent = static_cast<int>((bits >> 23) & 0xff);
  const double fraction = static_cast<double>(bits & 0x7fffff) / 8388608.0;
  const double magnitude = exponent == 0 ? std::ldexp(fraction, -126) : std::ldexp(1.0 + fraction, exponent - 127);
  return static_cast<float>((bits >> 31) != 0 ? -magnitude : magnitude);
}

// Hands out `bytes` `chunk` at a time, then 0.
ByteReader Chunks(std::string bytes, size_t chunk) {
  auto at = std::make_shared<size_t>(0);
  return [bytes, chunk, at](char* buf, size_t size) -> size_t {
    const size_t n = std::min({chunk, size, bytes.size() - *at});
    std::memcpy(buf, bytes.data() + *at, n);
    *at += n;
    return n;
  };
}

std::vector<float> ReadAll(LiveSource& source, size_t per_read) {
  std::vector<float> out, buf(per_read);
  while (size_t n = source.Read(buf.data(), buf.size())) out.insert(out.end(), buf.begin(), buf.begin() + n);
  EXPECT_EQ(source.Read(buf.data(), buf.size()), 0u) << "the end stays the end";
  return out;
}

const std::vector<int> kInt16 = {0, 1, -1, 32767, -32768, 12345, -2};
const std::vector<uint32_t> kFloatBits = {0x3f000000u, 0xbf800000u, 0x3809374cu, 0x00000001u, 0x7f7fffffu,
                                          0x80000000u, 0xc2c80000u};

struct RawCase {
  const char* name;
  RawFormat format;
  size_t chunk;        // bytes the stream hands out at a time
  size_t head;         // bytes already taken from the stream
  size_t per_read;     // samples asked for at a time
  int64_t limit;       // -1: none
  size_t stray_bytes;  // a partial sample at the end
};

class RawSamplesTest : public ::testing::TestWithParam<RawCase> {};

TEST_P(RawSamplesTest, GivesTheValuesOfTheBytesWhateverTheirArrival) {
  const RawCase& c = GetParam();
  const bool s16 = c.format == RawFormat::kInt16;
  std::string bytes = s16 ? Int16Bytes(kInt16) : Float32Bytes(kFloatBits);
  std::vector<float> expected;
  if (s16)
    for (int v : kInt16) expected.push_back(static_cast<float>(v) / 32768.0f);
  else
    for (uint32_t b : kFloatBits) expected.push_back(FromBits(b));
  bytes += std::string(c.stray_bytes, '\x7f');
  if (c.limit >= 0) expected.resize(static_cast<size_t>(c.limit));

  const std::string head = bytes.substr(0, c.head);
  std::unique_ptr<LiveSource> source =
      OpenRawSamples(Chunks(bytes.substr(c.head), c.chunk), 8000, c.format, "the test", head, c.limit);
  const std::vector<float> got = ReadAll(*source, c.per_read);
  ASSERT_EQ(got.size(), expected.size());
  for (size_t i = 0; i < got.size(); ++i)
    EXPECT_EQ(std::memcmp(&got[i], &expected[i], sizeof(float)), 0) << "sample " << i << ": " << got[i] << " vs "
                                                                     << expected[i];
  EXPECT_EQ(source->ReachedInput(), static_cast<double>(expected.size()));
  EXPECT_EQ(source->Rate(), 8000);
  EXPECT_EQ(source->What(), "the test");
}

INSTANTIATE_TEST_SUITE_P(
    Arrivals, RawSamplesTest,
    ::testing::Values(RawCase{"f32_whole", RawFormat::kFloat32, 1 << 16, 0, 4096, -1, 0},
                      RawCase{"f32_byte_by_byte", RawFormat::kFloat32, 1, 0, 4096, -1, 0},
                      RawCase{"f32_three_bytes_one_sample_a_read", RawFormat::kFloat32, 3, 0, 1, -1, 0},
                      RawCase{"f32_head_splits_a_sample", RawFormat::kFloat32, 5, 6, 2, -1, 0},
                      RawCase{"f32_partial_sample_dropped", RawFormat::kFloat32, 7, 0, 4096, -1, 3},
                      RawCase{"f32_limit", RawFormat::kFloat32, 2, 0, 4096, 3, 0},
                      RawCase{"s16_whole", RawFormat::kInt16, 1 << 16, 0, 4096, -1, 0},
                      RawCase{"s16_byte_by_byte", RawFormat::kInt16, 1, 0, 3, -1, 0},
                      RawCase{"s16_head_of_one_byte", RawFormat::kInt16, 4, 1, 4096, -1, 0},
                      RawCase{"s16_partial_sample_dropped", RawFormat::kInt16, 3, 0, 4096, -1, 1},
                      RawCase{"s16_limit_of_none", RawFormat::kInt16, 3, 2, 4096, 0, 0}),
    [](const ::testing::TestParamInfo<RawCase>& info) { return std::string(info.param.name); });

TEST(RawSamples, AStreamThatFailsSaysSo) {
  std::unique_ptr<LiveSource> source = OpenRawSamples(
      [](char*, size_t) -> size_t { throw Error("cannot read standard input: gone"); }, 8000, RawFormat::kFloat32,
      "standard input");
  float x[4];
  EXPECT_THROW(source->Read(x, 4), Error);
}

TEST(RawSamples, WrittenSamplesReadBackBitForBit) {
  const std::vector<float> samples = {0.0f, -0.0f, 1.0f, -1.5f, 3.0e-40f, 123.456f};
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  WriteRaw(f, samples);
  std::rewind(f);
  std::string bytes;
  for (int ch; (ch = std::fgetc(f)) != EOF;) bytes += static_cast<char>(ch);
  std::fclose(f);
  ASSERT_EQ(bytes.size(), samples.size() * 4);
  // Little-endian on every host: the lowest byte of each value's bits first.
  for (size_t i = 0; i < samples.size(); ++i) {
    uint32_t bits = 0;
    for (int k = 0; k < 4; ++k) bits |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[4 * i + k])) << (8 * k);
    EXPECT_EQ(FromBits(bits), samples[i]) << i;
  }
  std::unique_ptr<LiveSource> source = OpenRawSamples(Chunks(bytes, 5), 44100, RawFormat::kFloat32, "file");
  const std::vector<float> back = ReadAll(*source, 4);
  ASSERT_EQ(back.size(), samples.size());
  EXPECT_EQ(std::memcmp(back.data(), samples.data(), samples.size() * sizeof(float)), 0);
}

// Names a results file may hold: quotes, backslashes, control characters,
// text that looks like a record's own fields.
const char* const kAwkwardNames[] = {
    "plain.wav",
    "with \"quotes\" and \\backslashes\\.wav",
    "tab\there\nnewline.flac",
    "looks like,\"duration\":99,\"ok\":true,.wav",
    "\xc3\xa9t\xc3\xa9 \xe2\x99\xab.ogg",
};

TEST(ScanRecords, EveryLineReadsBackAsWritten) {
  for (const char* name : kAwkwardNames) {
    SCOPED_TRACE(name);
    Message m;
    m.text = "hello1234";
    m.band = 2;
    m.channel = 2;
    m.time_s = 1.5;
    m.end_s = 3.6;
    for (bool ok : {true, false}) {
      m.ok = ok;
      std::string line = MessageRecord(name, m);
      ASSERT_EQ(line.back(), '\n');
      line.pop_back();
      RecordInfo info;
      ASSERT_TRUE(ParseRecord(line, &info)) << line;
      EXPECT_EQ(info.file, name);
      EXPECT_FALSE(info.finished);
      EXPECT_FALSE(info.error);
      EXPECT_EQ(info.passed, ok);
    }
    for (double seconds : {0.0, 2.25, 3600.5, 123456.789012}) {
      FileSummary summary;
      summary.rate = 48000;
      summary.channels = 2;
      summary.seconds = seconds;
      std::string line = FileRecord(name, summary, 3);
      line.pop_back();
      RecordInfo info;
      ASSERT_TRUE(ParseRecord(line, &info)) << line;
      EXPECT_EQ(info.file, name);
      EXPECT_TRUE(info.finished);
      EXPECT_FALSE(info.error);
      EXPECT_FALSE(info.passed);
      EXPECT_NEAR(info.duration, seconds, 1e-6) << line;
    }
    std::string line = ErrorRecord(name, "cannot read: \"damaged\"");
    line.pop_back();
    RecordInfo info;
    ASSERT_TRUE(ParseRecord(line, &info)) << line;
    EXPECT_EQ(info.file, name);
    EXPECT_TRUE(info.finished);
    EXPECT_TRUE(info.error);
    EXPECT_EQ(info.duration, 0.0);
  }
}

TEST(ScanRecords, LinesThatAreNoRecordsAreRefused) {
  FileSummary summary;
  summary.rate = 44100;
  summary.channels = 1;
  summary.seconds = 10.0;
  std::string whole = FileRecord("a.wav", summary, 0);
  whole.pop_back();
  const std::string lines[] = {
      "",
      "{}",
      "not json at all",
      "{\"file\":\"a.wav\"}",                     // no field after the name
      "{\"file\":\"a.wav\",\"other\":1}",         // a field no record starts with
      whole.substr(0, whole.size() - 1),            // torn: the closing brace missing
      whole.substr(0, 12),                          // torn inside the name
      "{\"file\":\"a.wav,\"duration\":1.0}",      // the name's quote never closed
  };
  for (const std::string& line : lines) {
    RecordInfo info;
    EXPECT_FALSE(ParseRecord(line, &info)) << line;
  }
}

}  // namespace
}  // namespace cli
