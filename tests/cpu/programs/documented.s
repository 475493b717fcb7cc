; Documented instructions in every addressing mode, with zero-page and pointer wrap.
.include "common.inc"

; One read instruction with flags in pin (I forced), A = ain before it.
.macro alu_one op, arg, ain, pin, aout, pout
    set_p pin
    lda #ain
    op arg
    expect_ap aout, pout
.endmacro

; The read instruction in all eight modes over the shared operand layout.
.macro alu_all op, ain, mval, pin, aout, pout
    set_operand mval
    set_index
    alu_one op, {#mval}, ain, pin, aout, pout
    alu_one op, $30, ain, pin, aout, pout
    alu_one op, {$F0,x}, ain, pin, aout, pout
    alu_one op, $1230, ain, pin, aout, pout
    alu_one op, {$12F0,x}, ain, pin, aout, pout
    alu_one op, {$12F0,y}, ain, pin, aout, pout
    alu_one op, {($FA,x)}, ain, pin, aout, pout
    alu_one op, {($FF),y}, ain, pin, aout, pout
.endmacro

.macro rmw_one op, arg, addr, min, pin, mout, pout
    lda #min
    sta addr
    set_p pin
    op arg
    expect_mp addr, mout, pout
.endmacro

; zp, zp,X, abs, abs,X
.macro rmw_all op, min, pin, mout, pout
    set_index
    rmw_one op, $30, $30, min, pin, mout, pout
    rmw_one op, {$F0,x}, $35, min, pin, mout, pout
    rmw_one op, $1230, $1230, min, pin, mout, pout
    rmw_one op, {$12F0,x}, $1335, min, pin, mout, pout
.endmacro

.macro acc_one op, ain, pin, aout, pout
    set_p pin
    lda #ain
    op a
    expect_ap aout, pout
.endmacro

.segment "CODE"
reset:
    init
    set_pointers

; --- read instructions, all modes -------------------------------------------------
    alu_all lda, $00, $80, 0, $80, FN
    alu_all lda, $80, $00, FN, $00, FZ
    alu_all ora, $0F, $F0, 0, $FF, FN
    alu_all and, $0F, $F1, FN, $01, 0
    alu_all eor, $FF, $FF, 0, $00, FZ
    alu_all adc, $7F, $01, FC, $81, FN|FV
    alu_all adc, $FF, $01, 0, $00, FZ|FC
    alu_all sbc, $00, $01, FC, $FF, FN
    alu_all sbc, $80, $01, FC, $7F, FV|FC
    alu_all cmp, $40, $41, FC, $40, FN
    alu_all cmp, $41, $41, 0, $41, FZ|FC
    alu_all cmp, $42, $41, FV, $42, FV|FC

; --- LDX, LDY in every mode ------------------------------------------------------
    set_p 0
    set_operand $9C
    set_index
    ldx #$00
    expect_xp $00, FZ
    ldx $30
    expect_xp $9C, FN
    ldx #$45
    ldx $F0,y
    expect_xp $9C, FN
    ldx $1230
    expect_xp $9C, FN
    ldx $12F0,y
    expect_xp $9C, FN
    set_index
    ldy #$7F
    expect_yp $7F, 0
    ldy $30
    expect_yp $9C, FN
    ldy $F0,x
    expect_yp $9C, FN
    ldy $1230
    expect_yp $9C, FN
    ldy $12F0,x
    expect_yp $9C, FN

; --- stores in every mode --------------------------------------------------------
    set_index
    lda #$11
    sta $50
    expect_m $50, $11
    lda #$12
    sta $10,x
    expect_m $55, $12
    lda #$13
    sta $1250
    expect_m $1250, $13
    lda #$14
    sta $12F0,x
    expect_m $1335, $14
    lda #$15
    sta $12F0,y
    expect_m $1336, $15
    lda #$16
    sta ($FA,x)
    expect_m $1240, $16
    lda #$17
    sta ($FF),y
    expect_m $1336, $17
    stx $51
    expect_m $51, $45
    stx $10,y
    expect_m $56, $45
    stx $1251
    expect_m $1251, $45
    sty $52
    expect_m $52, $46
    sty $10,x
    expect_m $55, $46
    sty $1252
    expect_m $1252, $46

; --- wrap-around ------------------------------------------------------------------
    lda #$5C
    sta $10
    ldx #$90
    lda #0
    lda $80,x                   ; zero page indexing stays in page 0
    expect_a $5C
    ldx #$20
    lda #0
    lda $FFF0,x                 ; 16-bit wrap
    expect_a $5C
    lda #$F0
    sta $60
    lda #$FF
    sta $61
    ldy #$20
    lda #0
    lda ($60),y                 ; ($FFF0) + $20 wraps to $0010
    expect_a $5C
    lda #$34
    sta $FF
    lda #$12
    sta $00
    lda #$E7
    sta $1234
    ldx #$01
    lda #0
    lda ($FE,x)                 ; pointer at $FF, high byte from $00
    expect_a $E7
    ldx #$D0
    lda #$99
    sta $20,x                   ; $20 + $D0 -> $F0
    expect_m $F0, $99
    set_pointers

; --- read-modify-write -------------------------------------------------------------
    rmw_all asl, $81, 0, $02, FC
    rmw_all asl, $40, FC, $80, FN
    rmw_all lsr, $81, 0, $40, FC
    rmw_all lsr, $01, FN, $00, FZ|FC
    rmw_all rol, $80, FC, $01, FC
    rmw_all rol, $40, 0, $80, FN
    rmw_all ror, $01, FC, $80, FN|FC
    rmw_all ror, $02, 0, $01, 0
    rmw_all inc, $FF, FN, $00, FZ
    rmw_all inc, $7F, FC|FV, $80, FN|FC|FV
    rmw_all dec, $00, FZ, $FF, FN
    rmw_all dec, $01, 0, $00, FZ
    acc_one asl, $C0, 0, $80, FN|FC
    acc_one lsr, $01, FC, $00, FZ|FC
    acc_one rol, $80, 0, $00, FZ|FC
    acc_one ror, $00, FC, $80, FN

; --- compares with X and Y, BIT ----------------------------------------------------
    lda #$46
    sta $30
    lda #$44
    sta $1230
    ldx #$45
    cpx #$45
    expect_xp $45, FZ|FC
    cpx $30
    expect_xp $45, FN
    cpx $1230
    expect_xp $45, FC
    ldy #$45
    cpy #$45
    expect_yp $45, FZ|FC
    cpy $30
    expect_yp $45, FN
    cpy $1230
    expect_yp $45, FC
    lda #$C0
    sta $30
    sta $1230
    set_p 0
    lda #$3F
    bit $30
    expect_ap $3F, FN|FV|FZ
    set_p FC
    lda #$3F
    bit $1230
    expect_ap $3F, FN|FV|FZ|FC
    lda #$01
    sta $30
    set_p FN|FV
    lda #$01
    bit $30
    expect_ap $01, 0

; --- transfers, increments, flags ---------------------------------------------------
    set_p 0
    lda #$80
    tax
    expect_xp $80, FN
    lda #$00
    tay
    expect_yp $00, FZ
    ldx #$7F
    txa
    expect_ap $7F, 0
    ldy #$00
    tya
    expect_ap $00, FZ
    ldx #$FF
    inx
    expect_xp $00, FZ
    dex
    expect_xp $FF, FN
    ldy #$7F
    iny
    expect_yp $80, FN
    dey
    expect_yp $7F, 0
    ldx #$80
    set_p FZ
    txs                         ; no flags
    expect_p FZ
    tsx
    expect_xp $80, FN
    ldx #$00
    txs
    tsx
    expect_xp $00, FZ
    ldx #$FF
    txs
    set_p 0
    sec
    expect_p FC
    clc
    expect_p 0
    sed
    expect_p FD
    cld
    expect_p 0
    set_p FV|FN
    clv
    expect_p FN
    cli
    sei
    expect_p FN
    set_p FZ|FC
    nop
    expect_p FZ|FC

; --- decimal mode --------------------------------------------------------------------
    set_p FD
    lda #$99
    adc #$01                    ; $99 + $01 -> $00, C, N (from the high digit)
    expect_ap $00, FD|FC|FN
    set_p FD|FC
    lda #$00
    sbc #$01                    ; $00 - $01 -> $99, borrow
    expect_ap $99, FD|FN
    set_p FD|FC
    lda #$58
    adc #$46                    ; $58 + $46 + 1 -> $05, C, N, V
    expect_ap $05, FD|FC|FN|FV
    set_p FD
    lda #$12
    adc #$34
    expect_ap $46, FD
    set_p FD|FC
    lda #$46
    sbc #$12
    expect_ap $34, FD|FC
    set_p FD
    lda #$50
    adc $30                     ; $50 + $01 from memory
    expect_ap $51, FD
    cld

    jmp flow

    pass_fail_routines

; --- jumps, subroutines, stack, BRK, RTI, branches -----------------------------------
flow:
    jsr check_return            ; pushes the address of its own last byte
after_jsr:
    lda ret_lo
    expect_a <(after_jsr - 1)
    lda ret_hi
    expect_a >(after_jsr - 1)
    tsx
    expect_x $FF                ; RTS pulled both bytes

    ; RTS adds one to the pulled address
    lda #>(rts_target - 1)
    pha
    lda #<(rts_target - 1)
    pha
    rts
    jmp fail
rts_target:
    next_test

    ; RTI restores P and takes the pulled address as it is
    lda #>rti_target
    pha
    lda #<rti_target
    pha
    lda #(FN|FV|FZ|FC|FI)
    pha
    lda #0
    rti
    jmp fail
rti_target:
    expect_p FN|FV|FZ|FC

    ; JMP indirect: the pointer's high byte comes from the start of its page
    lda #<jmp_target
    sta $20FF
    lda #>jmp_target
    sta $2000
    lda #>fail
    sta $2100
    .byte $6C, $FF, $20         ; jmp ($20FF)
    jmp fail
jmp_target:
    lda #<jmp_target2
    sta $2010
    lda #>jmp_target2
    sta $2011
    jmp ($2010)
    jmp fail
jmp_target2:
    next_test

    ; stack: PHA/PLA, PHP/PLP and SP wrap
    set_p 0
    lda #$80
    pha
    lda #$00
    pha
    lda #$55
    pla
    expect_ap $00, FZ
    pla
    expect_ap $80, FN
    set_p FN|FV|FD|FC
    php
    set_p 0
    plp
    expect_p FN|FV|FD|FC
    cld
    ldx #$00
    txs
    lda #$A7
    pha                         ; SP $00 -> stores at $0100, SP $FF
    tsx
    expect_x $FF
    expect_m $0100, $A7
    lda #$33
    sta $0100
    pla                         ; SP $FF -> $00, reads $0100
    expect_a $33
    tsx
    expect_x $00
    ldx #$FF
    txs

    ; BRK: pushes its address + 2 and P with B, sets I, skips the byte after it
    lda #0
    sta brk_count
    set_p FC
    brk
    .byte $EA                   ; skipped
brk_back:
    expect_p FC
    lda brk_count
    expect_a 1
    lda brk_p
    expect_a (FC|FI|FB|$20)
    lda brk_lo
    expect_a <brk_back
    lda brk_hi
    expect_a >brk_back

    ; branches: taken and not taken for every condition
    set_p 0
    bmi fail_near
    bvs fail_near
    bcs fail_near
    beq fail_near
    bpl :+
    jmp fail
:   bvc :+
    jmp fail
:   bcc :+
    jmp fail
:   bne :+
    jmp fail
:   set_p FN|FV|FC|FZ
    bpl fail_near
    bvc fail_near
    bcc fail_near
    bne fail_near
    bmi :+
    jmp fail
:   bvs :+
    jmp fail
:   bcs :+
    jmp fail
:   beq :+
    jmp fail
:   next_test
    ; a backward loop
    ldx #5
    lda #0
:   clc
    adc #3
    dex
    bne :-
    expect_a 15
    jmp page_cross
fail_near:
    jmp fail

check_return:
    tsx
    lda $0101,x
    sta ret_lo
    lda $0102,x
    sta ret_hi
    rts

brk_handler:
    inc brk_count
    pla
    sta brk_p
    pha
    tsx
    lda $0102,x
    sta brk_lo
    lda $0103,x
    sta brk_hi
    rti

; branches whose targets lie in the next and the previous page
    .align 256
    .res $F0, $00
page_back:                      ; $xxF0
    jmp page_done
    .res 8, $00
page_cross:                     ; $xxFB
    clc
    bcc page_fwd                ; from $xxFE to $yy01
    jmp fail
page_fwd:                       ; $yy01
    lda #0
    beq page_back               ; back into the previous page
    jmp fail
page_done:
    sec
    bcc page_fail
    next_test
    jmp pass
page_fail:
    jmp fail

.segment "DATA30"
ret_lo:     .res 1
ret_hi:     .res 1
brk_count:  .res 1
brk_p:      .res 1
brk_lo:     .res 1
brk_hi:     .res 1

.segment "VECTORS"
    .word fail, reset, brk_handler
