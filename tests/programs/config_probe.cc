// Reads brand configuration documents the way the installer does, for the test that holds the
// distributor's tools to the same answers (tests/tools/test_document_reader.py). It links the
// shipped executable's runtime replacements, so numbers go through the same converter.
//
//   config_probe.exe <file>...
//
// Prints one line per file: the "brand_id" the installer took from it as a JSON string ("" when
// the document set none), or null when the document did not parse.
#include <jansson.h>

#include <cstdio>
#include <cstdlib>

#include "brand/brand_info.h"
#include "tests/support/test_paths.h"

int wmain(int argc, wchar_t** argv) {
  for (int i = 1; i < argc; ++i) {
    installer::BrandInfo brand(L"C:\\");
    const bool parsed = brand.ApplyConfigDocument(test_support::ReadFileBytes(argv[i]));
    json_t* value = parsed ? json_stringn(brand.brand_id().data(), brand.brand_id().size())
                           : json_null();
    char* text = json_dumps(value, JSON_ENCODE_ANY);
    std::printf("%s\n", text);
    std::free(text);
    json_decref(value);
  }
  return 0;
}
