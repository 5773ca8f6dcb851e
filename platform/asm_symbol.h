// The assembler's name of a C symbol, for `__asm__` labels: MinGW's x86 compiler puts an
// underscore before every C name, the x64 one does not.
#ifndef PLATFORM_ASM_SYMBOL_H_
#define PLATFORM_ASM_SYMBOL_H_

#define LI_STRINGIFY_(x) #x
#define LI_STRINGIFY(x) LI_STRINGIFY_(x)
#define LI_ASM_SYMBOL(name) LI_STRINGIFY(__USER_LABEL_PREFIX__) #name

#endif  // PLATFORM_ASM_SYMBOL_H_
