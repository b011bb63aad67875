# Calls into program code on behalf of the windowing Runtime.
        .intel_syntax noprefix
        .text

# uint32_t rt_call_preserved(void (*routine)(void))
# The program's entry routine and its end routines are called with every
# register kept: the routine's own convention promises only EBX, ESI, EDI
# and EBP, so ECX, EDX and the flags are saved here too. EAX is the result.
        .globl _rt_call_preserved
_rt_call_preserved:
        push    ebp
        mov     ebp, esp
        push    ebx
        push    ecx
        push    edx
        push    esi
        push    edi
        pushfd
        call    dword ptr [ebp+8]
        lea     esp, [ebp-24]
        popfd
        pop     edi
        pop     esi
        pop     edx
        pop     ecx
        pop     ebx
        pop     ebp
        ret

# uint64_t rt_call_with_words(uintptr_t routine, const uint32_t* words, int count)
# Pushes the words from the last to the first, so the routine receives them
# in order, calls it and returns EDX:EAX. The stack is restored from the
# frame, so a routine that removes its own arguments is as welcome as one
# that leaves them.
        .globl _rt_call_with_words
_rt_call_with_words:
        push    ebp
        mov     ebp, esp
        push    ebx
        push    esi
        push    edi
        mov     esi, [ebp+12]
        mov     ecx, [ebp+16]
1:      test    ecx, ecx
        jle     2f
        dec     ecx
        push    dword ptr [esi+ecx*4]
        jmp     1b
2:      call    dword ptr [ebp+8]
        lea     esp, [ebp-12]
        pop     edi
        pop     esi
        pop     ebx
        pop     ebp
        ret
