; Undocumented opcodes in every addressing mode they have.
.include "common.inc"

.macro urmw_one op, arg, addr, ain, min, pin, aout, mout, pout
    lda #min
    sta addr
    set_p pin
    lda #ain
    op arg
    expect_ap aout, pout
    expect_m addr, mout
.endmacro

; zp, zp,X, abs, abs,X, abs,Y, (zp,X), (zp),Y over the shared operand layout.
.macro urmw_all op, ain, min, pin, aout, mout, pout
    set_index
    urmw_one op, $30, $30, ain, min, pin, aout, mout, pout
    urmw_one op, {$F0,x}, $35, ain, min, pin, aout, mout, pout
    urmw_one op, $1230, $1230, ain, min, pin, aout, mout, pout
    urmw_one op, {$12F0,x}, $1335, ain, min, pin, aout, mout, pout
    urmw_one op, {$12F0,y}, $1336, ain, min, pin, aout, mout, pout
    urmw_one op, {($FA,x)}, $1240, ain, min, pin, aout, mout, pout
    urmw_one op, {($FF),y}, $1336, ain, min, pin, aout, mout, pout
.endmacro

.macro imm_one opcode, ain, mval, pin, aout, pout
    set_p pin
    lda #ain
    .byte opcode, mval
    expect_ap aout, pout
.endmacro

.segment "CODE"
reset:
    init
    set_pointers

; --- read-modify-write kinds -----------------------------------------------------------
    urmw_all slo, $01, $81, 0, $03, $02, FC
    urmw_all rla, $FF, $80, FC, $01, $01, FC
    urmw_all sre, $FF, $03, 0, $FE, $01, FN|FC
    urmw_all rra, $10, $03, 0, $12, $01, 0
    urmw_all rra, $7F, $02, FC, $00, $81, FZ|FC
    urmw_all rra, $15, $0B, FD|FC, $01, $85, FD|FN|FC
    urmw_all dcp, $40, $41, 0, $40, $40, FZ|FC
    urmw_all dcp, $40, $00, FC, $40, $FF, 0
    urmw_all isc, $10, $04, FC, $0B, $05, FC
    urmw_all isc, $00, $FF, FC, $00, $00, FZ|FC
    urmw_all isc, $20, $04, FD|FC, $15, $05, FD|FC
    cld

; --- SAX, LAX -----------------------------------------------------------------------
    set_index
    set_p FV|FC
    lda #$F3
    sax $50
    sax $10,y                   ; $56
    sax $1250
    sax ($FA,x)                 ; $1240
    expect_p FN|FV|FC           ; no flags
    expect_m $50, $41
    expect_m $56, $41
    expect_m $1250, $41
    expect_m $1240, $41

    set_operand $80
    set_index
    set_p FZ
    lax $30
    expect_ap $80, FN
    expect_x $80
    set_index
    lda #0
    lax $F0,y                   ; $36
    expect_ap $80, FN
    expect_x $80
    lda #0
    lax $1230
    expect_ap $80, FN
    expect_x $80
    set_index
    lda #0
    lax $12F0,y                 ; $1336, page crossed
    expect_ap $80, FN
    expect_x $80
    set_index
    lda #0
    lax ($FA,x)
    expect_ap $80, FN
    expect_x $80
    set_index
    lda #0
    lax ($FF),y
    expect_ap $80, FN
    expect_x $80
    lda #$00
    sta $30
    lax $30
    expect_ap $00, FZ
    expect_x $00

; --- immediates ----------------------------------------------------------------------
    imm_one $0B, $F0, $81, 0, $80, FN|FC          ; ANC: C = N
    imm_one $2B, $0F, $F0, FC, $00, FZ
    imm_one $4B, $FF, $03, FN, $01, FC            ; ALR
    imm_one $6B, $FF, $FF, FC, $FF, FN|FC         ; ARR, binary
    imm_one $6B, $80, $FF, 0, $40, FV|FC
    imm_one $6B, $FF, $FF, FD|FC, $55, FD|FN|FC   ; ARR, decimal
    imm_one $EB, $10, $01, FC, $0F, FC            ; SBC #
    imm_one $EB, $00, $01, FC, $FF, FN
    cld
    ldx #$FF
    imm_one $8B, $00, $FF, 0, $EE, FN             ; ANE
    ldx #$0F
    imm_one $8B, $11, $FE, 0, $0E, 0
    imm_one $AB, $00, $FF, 0, $EE, FN             ; LXA
    expect_x $EE
    imm_one $AB, $11, $0F, 0, $0F, 0
    expect_x $0F

    ; SBX: X = (A AND X) - m without borrow, decimal mode ignored
    ldx #$0F
    set_p FV
    lda #$FF
    axs #$10
    expect_xp $FF, FN|FV
    ldx #$40
    set_p FD
    lda #$FF
    axs #$01
    expect_xp $3F, FD|FC
    ldx #$55
    set_p 0
    lda #$F5
    axs #$55
    expect_xp $00, FZ|FC
    cld

; --- LAS -------------------------------------------------------------------------------
    set_index
    lda #$C7
    sta $1336
    set_p 0
    las $12F0,y                 ; SP $FF: A = X = SP = $C7
    php
    stx las_x
    sta las_a
    pla
    sta las_p
    tsx
    stx las_sp
    ldx #$FF
    txs
    expect_m las_a, $C7
    expect_m las_x, $C7
    expect_m las_sp, $C7
    expect_m las_p, (FN|FI|$30)
    ldx #$F0
    txs
    ldy #$46
    las $12F0,y                 ; $C7 AND $F0
    tsx
    stx las_sp
    ldx #$FF
    txs
    expect_a $C0
    expect_m las_sp, $C0

; --- SHA, SHX, SHY, TAS: value AND (H + 1); a page crossing puts it in the high byte ---
    lda #0
    sta $1410
    sta $12F5
    sta $0410
    ldx #$FF
    ldy #$20
    shx $12F0,y
    expect_m $1410, $14
    ldy #$05
    shx $12F0,y
    expect_m $12F5, $13

    lda #0
    sta $1410
    sta $12F5
    ldy #$FF
    ldx #$20
    shy $12F0,x
    expect_m $1410, $14
    ldx #$05
    shy $12F0,x
    expect_m $12F5, $13

    lda #0
    sta $12F5
    ldx #$FF
    ldy #$20
    lda #$0F
    sha $12F0,y                 ; $0F AND $14 = $04 -> $0410
    expect_m $0410, $04
    ldy #$05
    lda #$0F
    sha $12F0,y                 ; $0F AND $13 = $03 -> $12F5
    expect_m $12F5, $03

    lda #0
    sta $0410
    sta $12F5
    lda #$F0
    sta $FF
    lda #$12
    sta $00
    ldx #$FF
    ldy #$20
    lda #$0F
    sha ($FF),y
    expect_m $0410, $04
    ldy #$05
    lda #$0F
    sha ($FF),y
    expect_m $12F5, $03

    lda #0
    sta $1410
    ldx #$1F
    ldy #$20
    lda #$FF
    tas $12F0,y                 ; SP = $1F; $1F AND $14 = $14 -> $1410
    tsx
    stx las_sp
    ldx #$FF
    txs
    expect_m las_sp, $1F
    expect_m $1410, $14
    jmp nops

    pass_fail_routines

; --- NOP forms: no register or flag changes ------------------------------------------
nops:
    set_p FN|FV|FC
    lda #$11
    ldx #$22
    ldy #$33
    .byte $1A, $3A, $5A, $7A, $DA, $FA            ; implied
    .byte $80, $01, $82, $02, $89, $03, $C2, $04, $E2, $05   ; immediate
    .byte $04, $30, $44, $30, $64, $30            ; zero page
    .byte $14, $30, $34, $30, $54, $30, $74, $30, $D4, $30, $F4, $30   ; zero page,X
    .byte $0C, $30, $12                           ; absolute
    .byte $1C, $30, $12, $3C, $30, $12, $5C, $F0, $12   ; absolute,X
    .byte $7C, $F0, $12, $DC, $F0, $12, $FC, $F0, $12
    expect_ap $11, FV|FC
    expect_x $22
    expect_y $33
    jmp pass

.segment "DATA30"
las_a:  .res 1
las_x:  .res 1
las_p:  .res 1
las_sp: .res 1

.segment "VECTORS"
    .word fail, reset, fail
