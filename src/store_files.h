// The names of the record store's files, in the directory that holds the
// store. The formats are written up in doc/store_format.md.
#ifndef QUERY_STORE_FILES_H_
#define QUERY_STORE_FILES_H_

#include <string>

inline constexpr char kInfoFile[] = "INFO";         // the record count
inline constexpr char kHeadFile[] = "HEAD";         // header records
inline constexpr char kDocFile[] = "DOC";           // detail lines
inline constexpr char kHeaderIndexFile[] = "H";     // the key of every header record

// The path of the file `name` of the store in directory `dir`: `name` itself
// when it is absolute or `dir` is empty or ".", so that messages and the
// working-directory store keep their plain names.
inline std::string StoreFilePath(const std::string& dir, const std::string& name) {
  if (dir.empty() || dir == "." || (!name.empty() && name[0] == '/')) return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

#endif  // QUERY_STORE_FILES_H_
