; Loads a named file from the serial bus through CIA2 port A, as the computer's side of the bus
; protocol: LISTEN, OPEN 0, name, UNLISTEN; TALK, SECOND 0, receive, UNTALK; LISTEN, CLOSE 0,
; UNLISTEN. The received bytes go to $C000 as they come (load address included); the length and
; a status byte (bit 1 read time-out, bit 0 write time-out, bit 7 device not present) are stored
; below. A talker that leaves CLK released for 256 cycles signals end-or-identify, acknowledged
; by holding DATA for 60 cycles; a second silence is a time-out.
;
; A program at $0801 with a BASIC stub (10 SYS2061). The test patches the parameters at $0810
; into the image and reads the results at $0833. With flag bit 0 set it loads again and again.

.setcpu "6502"

PRA       = $DD00
DDRA      = $DD02
ATN_OUT   = $08
CLK_OUT   = $10
DATA_OUT  = $20
BUFFER    = $C000
BUFFER_END = $D0           ; high byte: bytes past $CFFF are counted, not stored

PTR       = $FB             ; and $FC
SHIFT     = $FD
EOI       = $FE
BITS      = $02

.macro pull mask
    lda PRA
    ora #mask
    sta PRA
.endmacro

.macro release mask
    lda PRA
    and #<~mask
    sta PRA
.endmacro

; Polls until the branch on BIT PRA is taken (to found); carry set after 65536 rounds.
.macro wait_long branch
    ldx #0
    ldy #0
:   bit PRA
    branch found
    dex
    bne :-
    dey
    bne :-
    sec
    rts
.endmacro

.segment "LOADADDR"
    .word $0801

.segment "CODE"

; 10 SYS2061
    .word stub_end, 10
    .byte $9E, "2061", 0
stub_end:
    .word 0

    jmp start

; Parameters.
device:   .byte 8
flags:    .byte 0           ; bit 0: load forever
name_len: .byte 5
name:     .byte "HELLO"
          .res 32 - 5
; Results.
status:   .byte 0
length:   .word 0
loops:    .word 0
done:     .byte 0
saved_sp: .byte 0
name_index: .byte 0

.assert device = $0810, error, "parameters moved"
.assert status = $0833, error, "results moved"

start:
    sei
    lda #$3F                ; bank bits, TXD, ATN, CLK, DATA out
    sta DDRA
    lda #$03                ; VIC bank 0, every line released
    sta PRA
    tsx
    stx saved_sp
load:
    lda #0
    sta status
    sta length
    sta length+1

    lda device              ; LISTEN, OPEN 0, the name, UNLISTEN
    ora #$20
    jsr atn_start
    lda #$F0
    jsr send_command
    release ATN_OUT
    ldy #0
send_name:
    cpy name_len
    beq name_sent
    iny
    lda #0
    cpy name_len
    bne :+
    lda #1                  ; end-or-identify before the last byte
:   sta EOI
    lda name-1,y
    sty name_index
    jsr send_byte
    ldy name_index
    jmp send_name
name_sent:
    lda #$3F
    jsr atn_start
    jsr release_all

    lda device              ; TALK, SECOND 0, turn the bus around, receive, UNTALK
    ora #$40
    jsr atn_start
    lda #$60
    jsr send_command
    pull DATA_OUT
    ldx #4
    jsr delay
    release ATN_OUT
    ldx #4
    jsr delay
    release CLK_OUT
    jsr wait_clk_lo         ; the drive is talker now
    bcs no_talker
    jsr receive
no_talker:
    lda #$5F
    jsr atn_start
    jsr release_all

    lda device              ; LISTEN, CLOSE 0, UNLISTEN
    ora #$20
    jsr atn_start
    lda #$E0
    jsr send_command
    lda #$3F
    jsr atn_start
    jsr release_all
finish:
    inc loops
    bne :+
    inc loops+1
:   lda flags
    and #1
    beq :+
    jmp load
:   lda #1
    sta done
    cli
spin:
    jmp spin

; Gives up the transfer with a status bit in A: lines released, back to the finish.
abort:
    ora status
    sta status
    ldx saved_sp
    txs
    jsr release_all
    jmp finish

; ATN, CLK pulled and DATA released, then the command byte in A.
atn_start:
    pha
    lda PRA
    and #<~DATA_OUT
    ora #ATN_OUT | CLK_OUT
    sta PRA
    ldx #200                ; a device answers within 1000 cycles
    jsr delay
    bit PRA
    bpl :+
    lda #$80                ; device not present
    jmp abort
:   pla
send_command:
    ldx #0
    stx EOI
; The byte in A as talker; with EOI set, first waits for the listener to acknowledge the pause.
send_byte:
    sta SHIFT
    release CLK_OUT         ; ready to send
    jsr wait_data_hi        ; every listener ready for data
    bcs write_timeout
    lda EOI
    beq send_bits
    jsr wait_data_lo
    bcs write_timeout
    jsr wait_data_hi
    bcs write_timeout
send_bits:
    ldx #4
    jsr delay
    pull CLK_OUT
    lda #8
    sta BITS
next_bit:
    lsr SHIFT
    lda PRA
    and #<~DATA_OUT
    bcs :+
    ora #DATA_OUT           ; a 0 bit pulls DATA
:   sta PRA
    ldx #8
    jsr delay
    release CLK_OUT         ; the bit is valid
    ldx #8
    jsr delay
    pull CLK_OUT
    dec BITS
    bne next_bit
    release DATA_OUT
    ldx #90                 ; the listener takes the byte within 1000 cycles
:   bit PRA
    bpl :+
    dex
    bne :-
write_timeout:
    lda #$01
    jmp abort
:   rts

; Bytes to BUFFER until the one after end-or-identify, or a time-out.
receive:
    lda #<BUFFER
    sta PTR
    lda #>BUFFER
    sta PTR+1
next_byte:
    lda #0
    sta EOI
    jsr wait_clk_hi         ; talker ready to send
    bcs read_timeout
    release DATA_OUT        ; ready for data
    jsr wait_clk_lo_256
    bcc receive_bits
    inc EOI                 ; end-or-identify: hold DATA for 60 cycles
    pull DATA_OUT
    ldx #12
    jsr delay
    release DATA_OUT
    jsr wait_clk_lo_256
    bcs read_timeout
receive_bits:
    lda #8
    sta BITS
:   jsr wait_clk_hi         ; the bit is valid while CLK is released
    bcs read_timeout
    lda PRA
    asl                     ; DATA in is bit 7
    ror SHIFT
    jsr wait_clk_lo
    bcs read_timeout
    dec BITS
    bne :-
    pull DATA_OUT           ; byte taken
    lda PTR+1
    cmp #BUFFER_END
    bcs :+
    ldy #0
    lda SHIFT
    sta (PTR),y
    inc PTR
    bne :+
    inc PTR+1
:   inc length
    bne :+
    inc length+1
:   ldx #4
    jsr delay
    lda EOI
    beq next_byte
    release DATA_OUT
    rts
read_timeout:
    lda #$02
    ora status
    sta status
    release DATA_OUT
    rts

release_all:
    lda PRA
    and #<~(ATN_OUT | CLK_OUT | DATA_OUT)
    sta PRA
    ldx #200
; About 5 cycles per count in X.
delay:
    dex
    bne delay
    rts

; Waits for a line level; carry set when it did not come. BIT puts DATA in N and CLK in V.
; The long waits give up after about 720,000 cycles, wait_clk_lo_256 after 256.
wait_clk_hi:
    wait_long bvs
wait_clk_lo:
    wait_long bvc
wait_data_hi:
    wait_long bmi
wait_data_lo:
    wait_long bpl
wait_clk_lo_256:
    ldx #23                 ; 11 cycles a round
:   bit PRA
    bvc found
    dex
    bne :-
    sec
    rts
found:
    clc
    rts
