# Runtime side of the three entry-table slots that carry a value beside the
# call (EAX), so that the stack holds exactly the callee's own arguments.
        .intel_syntax noprefix
        .text

# Slot 3, CallBuiltinCommand. EAX = command routine; the stack holds the
# return address, the argument count, then the ArgRecords in source order.
# Reserves and zeroes a result record, calls cmd(&result, count, &args[0])
# (C convention) and returns the value in EDX:EAX and its TypeCode in ECX.
        .globl _rt_slot_call_builtin
_rt_slot_call_builtin:
        push    ebp
        mov     ebp, esp
        sub     esp, 12
        mov     dword ptr [ebp-12], 0
        mov     dword ptr [ebp-8], 0
        mov     dword ptr [ebp-4], 0
        lea     ecx, [ebp+12]
        lea     edx, [ebp-12]
        push    ecx
        push    dword ptr [ebp+8]
        push    edx
        call    eax
        add     esp, 12
        mov     eax, [ebp-12]
        mov     edx, [ebp-8]
        mov     ecx, [ebp-4]
        leave
        ret

# Slot 1, CallDllCommand. EAX = DllCommandTable index; the stack holds the
# return address and the external function's own arguments. Binds the entry
# (or ends the program) and jumps to it, so the stdcall callee returns
# straight to the program, which then checks the stack.
        .globl _rt_slot_call_dll
_rt_slot_call_dll:
        push    eax
        call    _rt_resolve_dll_command
        add     esp, 4
        jmp     eax

# Slot 12, RuntimeService. EAX = service number; up to six arguments follow
# the return address. They are copied into a C call; reading words beyond
# what a service takes only reads the caller's own stack.
        .globl _rt_slot_runtime_service
_rt_slot_runtime_service:
        push    ebp
        mov     ebp, esp
        push    dword ptr [ebp+28]
        push    dword ptr [ebp+24]
        push    dword ptr [ebp+20]
        push    dword ptr [ebp+16]
        push    dword ptr [ebp+12]
        push    dword ptr [ebp+8]
        push    eax
        call    _rt_runtime_service_c
        leave
        ret
