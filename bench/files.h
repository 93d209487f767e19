// Files and the process's own figures, for the benchmark: every failure
// dies with its reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace bench {

void writeFile(const std::string& path, const void* data, size_t size);
// Copies a file; returns its size.
int64_t copyFile(const std::string& from, const std::string& to);
// Reads up to size bytes from the start of path; returns the bytes read.
int64_t readInto(const std::string& path, void* data, size_t size);
int64_t fileSize(const std::string& path);
// Removes the benchmark's temporary directory and what it put there.
void removeTree(const std::string& dir);
// Resident set size of this process now, in KiB (VmRSS), or -1.
long selfRssKiB();
// Bytes this process has read and written through system calls so far
// (rchar + wchar of /proc/self/io), or -1.
int64_t selfIoBytes();
// Compares two files byte for byte; returns -1 when equal, else the offset
// of the first difference (the shorter file's size when one is a prefix).
int64_t firstDifference(const std::string& a, const std::string& b, int64_t& sizeA, int64_t& sizeB);

}  // namespace bench
