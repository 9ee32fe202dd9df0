// Raw little-endian mono samples, float32 or 16-bit: what --raw, listen on a
// pipe and encode -o - read and write. Samples are handed on as soon as they
// arrive, so a live stream is heard as it comes.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "io/sample_source.h"

namespace cli {

enum class RawFormat { kFloat32, kInt16 };

// Reads the next bytes of a stream into `buf`: how many, 0 at its end.
// Throws Error when the stream cannot be read.
using ByteReader = std::function<size_t(char* buf, size_t size)>;

// A file descriptor read with read(2), as its bytes arrive.
ByteReader ReadFd(int fd);

// Samples from `read` at `rate` Hz; `head` holds bytes already taken from
// the stream, `limit` the most samples to hand out (-1: all). A trailing
// partial sample is dropped. `what` names the input in messages.
std::unique_ptr<LiveSource> OpenRawSamples(ByteReader read, int rate, RawFormat format, const std::string& what,
                                           std::string head = "", int64_t limit = -1);

// Writes raw float32 little-endian samples. Throws Error on a write failure.
void WriteRaw(std::FILE* stream, const std::vector<float>& samples);

}  // namespace cli
