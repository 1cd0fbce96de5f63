#include "test_store.h"

#include <dirent.h>

#include <fstream>
#include <sstream>
#include <vector>

const char kAccentedName[] = "Ferreter\xA1" "a Nu\xA4" "ez & \"Q\"";
const char kAccentedNameUtf8[] = "Ferretería Nuñez & \"Q\"";
const char kScriptName[] = "<script>pwned=1</script>";
const char kFormulaName[] = "=HYPERLINK(\"x\")";
const char kControlName[] = "\x1b[31mRed\x07";
const char kAccentedArticle[] = "Tuerca N\xA7" "4 ca\xA4" "er\xA1" "a";
const char kAccentedArticleUtf8[] = "Tuerca Nº4 cañería";

namespace {

constexpr size_t kClientRecord = 80;  // clients.db: key 6, name 30, city 20, ...
constexpr size_t kNameOffset = 6;
constexpr size_t kNameSize = 30;

bool ReadFile(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  *bytes = text.str();
  return true;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

constexpr size_t kArticleRecord = 60;  // articles.db: code 8, description 30, ...
constexpr size_t kDescriptionOffset = 8;

void Put(std::string* table, size_t at, size_t size, const std::string& text) {
  std::string field = text.substr(0, size);
  field.resize(size, ' ');
  table->replace(at, size, field);
}

void PutName(std::string* table, int client, const std::string& name) {
  Put(table, static_cast<size_t>(client - 1) * kClientRecord + kNameOffset, kNameSize, name);
}

}  // namespace

bool WriteHostileStore(const std::string& examples_dir, const std::string& dir, std::string* error) {
  DIR* d = opendir(examples_dir.c_str());
  if (d == nullptr) {
    *error = "cannot list " + examples_dir;
    return false;
  }
  std::vector<std::string> names;
  while (dirent* entry = readdir(d))
    if (entry->d_name[0] != '.') names.push_back(entry->d_name);
  closedir(d);
  for (const std::string& name : names) {
    std::string bytes;
    if (!ReadFile(examples_dir + "/" + name, &bytes)) {
      *error = "cannot read " + examples_dir + "/" + name;
      return false;
    }
    if (name == "clients.db") {
      PutName(&bytes, 2, kAccentedName);
      PutName(&bytes, 3, kScriptName);
      PutName(&bytes, 4, kFormulaName);
      PutName(&bytes, 5, kControlName);
    }
    if (name == "articles.db") Put(&bytes, kArticleRecord + kDescriptionOffset, kNameSize, kAccentedArticle);
    if (!WriteFile(dir + "/" + name, bytes)) {
      *error = "cannot write " + dir + "/" + name;
      return false;
    }
  }
  return true;
}
