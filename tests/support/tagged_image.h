// Executables with a distribution tag, made the way the download site stamps them: the tag
// goes into a certificate-table entry behind a DER stand-in of `der_length` bytes.
#ifndef TESTS_SUPPORT_TAGGED_IMAGE_H_
#define TESTS_SUPPORT_TAGGED_IMAGE_H_

#include <cstdint>
#include <string>

namespace test_support {

// Where the reader expects the tag in an entry: entry header (8) + DER header (4) + the DER
// contents, rounded up to 8.
uint32_t ExpectedTagOffset(uint16_t der_length);

// `exe` (a PE32 or PE32+ image) with a certificate entry appended that carries `text` as its tag, and
// the security directory pointed at it.
std::string AppendCertificateWithTag(std::string exe, const std::string& text,
                                     uint16_t der_length);

}  // namespace test_support

#endif  // TESTS_SUPPORT_TAGGED_IMAGE_H_
