// The assembler's name of a C symbol: MinGW's x86 compiler puts an underscore before every C
// name, the x64 one does not. LI_ASM_SYMBOL gives it as a string for `__asm__` labels in C++,
// LI_ASM_LABEL as a bare name in assembly sources (.S, preprocessed).
#ifndef PLATFORM_ASM_SYMBOL_H_
#define PLATFORM_ASM_SYMBOL_H_

#define LI_STRINGIFY_(x) #x
#define LI_STRINGIFY(x) LI_STRINGIFY_(x)
#define LI_ASM_SYMBOL(name) LI_STRINGIFY(__USER_LABEL_PREFIX__) #name
#define LI_CONCAT_(a, b) a##b
#define LI_CONCAT(a, b) LI_CONCAT_(a, b)
#define LI_ASM_LABEL(name) LI_CONCAT(__USER_LABEL_PREFIX__, name)

#endif  // PLATFORM_ASM_SYMBOL_H_
