// The header index `H`: the key of every header record, packed end to end,
// key n belonging to record n. The key shortcut searches it.
#ifndef QUERY_HEADER_INDEX_H_
#define QUERY_HEADER_INDEX_H_

#include <cstdint>
#include <string>
#include <string_view>

// Scans the header index `H` for the first of its keys, among the first
// `limit`, equal to the first `key_length` bytes of `probe`. Returns the
// record number, or -1 when H is missing or holds no such key.
int64_t FindInHeaderIndex(const std::string& path, std::string_view probe, int key_length,
                          int64_t limit);

#endif  // QUERY_HEADER_INDEX_H_
