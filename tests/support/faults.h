// Faults on purpose, for the tests of the exception guards.
#ifndef TESTS_SUPPORT_FAULTS_H_
#define TESTS_SUPPORT_FAULTS_H_

namespace test_support {

// Writes through a null pointer that the compiler cannot see to be null, so the access
// violation really happens: a store the compiler knows to go through null is undefined
// behaviour, and it may drop the store, or even a call that leads to it.
void WriteThroughNull();

}  // namespace test_support

#endif  // TESTS_SUPPORT_FAULTS_H_
