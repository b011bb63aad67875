# Program side of the calling sequences: what compiled program code does to
# reach slots 1, 3 and 12 of the entry table.
        .intel_syntax noprefix
        .text

# void rt_prog_call_builtin(ArgRecord* result, cmd, const ArgRecord* args, int count)
# Lays the ArgRecords on the stack in source order, pushes the count, names
# the command in EAX, calls slot 3 and stores EDX:EAX and ECX in *result.
        .globl _rt_prog_call_builtin
_rt_prog_call_builtin:
        push    ebp
        mov     ebp, esp
        push    esi
        push    edi
        push    ebx
        mov     ecx, [ebp+20]
        imul    ecx, ecx, 12
        sub     esp, ecx
        mov     edi, esp
        mov     esi, [ebp+16]
        cld
        rep movsb
        push    dword ptr [ebp+20]
        mov     eax, [ebp+12]
        call    dword ptr [_rt_entry_table+12]
        mov     ebx, [ebp+8]
        mov     [ebx], eax
        mov     [ebx+4], edx
        mov     [ebx+8], ecx
        lea     esp, [ebp-12]
        pop     ebx
        pop     edi
        pop     esi
        pop     ebp
        ret

# uint32_t rt_prog_call_dll(int index, const uint32_t* words, int count)
# Pushes the words as the external function's arguments (last first), calls
# slot 1 with the index in EAX, and checks that the callee removed exactly
# what it was given; otherwise raises runtime error 6 through slot 0.
        .globl _rt_prog_call_dll
_rt_prog_call_dll:
        push    ebp
        mov     ebp, esp
        push    esi
        push    edi
        push    ebx
        mov     edi, esp
        mov     esi, [ebp+12]
        mov     ecx, [ebp+16]
1:      test    ecx, ecx
        jz      2f
        dec     ecx
        push    dword ptr [esi+ecx*4]
        jmp     1b
2:      mov     eax, [ebp+8]
        call    dword ptr [_rt_entry_table+4]
        cmp     esp, edi
        jne     3f
        pop     ebx
        pop     edi
        pop     esi
        pop     ebp
        ret
3:      mov     esp, edi
        push    6
        call    dword ptr [_rt_entry_table+0]

# intptr_t rt_prog_service(int number, a1, a2, a3, a4)
        .globl _rt_prog_service
_rt_prog_service:
        push    ebp
        mov     ebp, esp
        push    dword ptr [ebp+24]
        push    dword ptr [ebp+20]
        push    dword ptr [ebp+16]
        push    dword ptr [ebp+12]
        mov     eax, [ebp+8]
        call    dword ptr [_rt_entry_table+48]
        leave
        ret
