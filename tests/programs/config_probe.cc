// Reads brand configuration documents the way the installer does, for the test that holds the
// distributor's tools to the same answers (tests/tools/test_document_reader.py). It links the
// shipped executable's runtime replacements, so numbers go through the same converter.
//
//   config_probe.exe <file>...
//
// For each file, in order, prints one line: the "brand_id" the installer took from it as a
// JSON string ("" when the document was unreadable or set none). Exit code 2 when a file
// cannot be read.
#include <windows.h>
#include <shellapi.h>

#include <jansson.h>

#include <cstdio>
#include <string>

#include "brand/brand_info.h"

namespace {

bool ReadWholeFile(const wchar_t* path, std::string* bytes) {
  FILE* file = _wfopen(path, L"rb");
  if (file == nullptr) return false;
  char buffer[65536];
  size_t read;
  while ((read = std::fread(buffer, 1, sizeof(buffer), file)) > 0) bytes->append(buffer, read);
  const bool ok = std::ferror(file) == 0;
  std::fclose(file);
  return ok;
}

}  // namespace

int wmain() {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (argv == nullptr) return 2;
  for (int i = 1; i < count; ++i) {
    std::string document;
    if (!ReadWholeFile(argv[i], &document)) return 2;
    installer::BrandInfo brand(L"C:\\");
    brand.ApplyConfigDocument(document);
    json_t* value = json_stringn(brand.brand_id().data(), brand.brand_id().size());
    char* text = json_dumps(value, JSON_ENCODE_ANY);
    std::printf("%s\n", text != nullptr ? text : "null");
    free(text);
    json_decref(value);
  }
  LocalFree(argv);
  std::fflush(stdout);
  return 0;
}
