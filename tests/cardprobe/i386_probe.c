/* The smallest 32-bit x86 Linux program: it only exits with status 0. Built
   without a C library, so no 32-bit libraries are needed to build or run it;
   whether it runs says whether this kernel executes 32-bit programs. */
void _start(void) { __asm__ volatile("movl $1, %eax\n\txorl %ebx, %ebx\n\tint $0x80"); }
