// The names of the record store's files, in the directory that holds the
// store. The formats are written up in doc/store_format.md.
#ifndef QUERY_STORE_FILES_H_
#define QUERY_STORE_FILES_H_

inline constexpr char kInfoFile[] = "INFO";         // the record count
inline constexpr char kHeadFile[] = "HEAD";         // header records
inline constexpr char kDocFile[] = "DOC";           // detail lines
inline constexpr char kHeaderIndexFile[] = "H";     // the key of every header record

#endif  // QUERY_STORE_FILES_H_
