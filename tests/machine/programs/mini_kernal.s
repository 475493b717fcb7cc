; The machine tests' own small KERNAL: enough of a boot for tunes and cartridges.
; Reset sets up the port, the IRQ and NMI vectors in RAM and a CIA1 timer A interrupt every
; 16421 cycles, starts an autostart cartridge, then waits at $E5CD until the keyboard buffer
; count at $C6 is not 0, and then runs the program behind a one-line BASIC stub at $080D.

.setcpu "6502"

CIA1_TALO = $DC04
CIA1_TAHI = $DC05
CIA1_ICR  = $DC0D
CIA1_CRA  = $DC0E
IRQ_VEC   = $0314
NMI_VEC   = $0318
KEY_COUNT = $C6
CART      = $8000
TIMER     = 16420          ; latch + 1 cycles per interrupt

.segment "CODE"

reset:
    sei
    cld
    ldx #$FF
    txs
    lda #$37                ; the port value first: with the direction set, it takes effect
    sta $01
    lda #$2F
    sta $00
    lda #0                  ; empty keyboard buffer
    sta KEY_COUNT
    lda #<irq_tail
    sta IRQ_VEC
    lda #>irq_tail
    sta IRQ_VEC+1
    lda #<nmi_tail
    sta NMI_VEC
    lda #>nmi_tail
    sta NMI_VEC+1
    lda #$7F
    sta CIA1_ICR
    lda #<TIMER
    sta CIA1_TALO
    lda #>TIMER
    sta CIA1_TAHI
    lda #$81
    sta CIA1_ICR
    lda #$11                ; load and start, continuous
    sta CIA1_CRA
    ldx #4
check_cart:
    lda CART+4,x
    cmp cbm80,x
    bne no_cart
    dex
    bpl check_cart
    jmp (CART)
no_cart:
    cli
    jmp idle

cbm80:
    .byte $C3, $C2, $CD, $38, $30

irq:
    pha
    txa
    pha
    tya
    pha
    jmp (IRQ_VEC)

irq_tail:
    lda CIA1_ICR
    pla
    tay
    pla
    tax
    pla
nmi_tail:
    rti

nmi:
    jmp (NMI_VEC)

.segment "IDLE"

idle:
    lda KEY_COUNT
    beq idle
    lda #0
    sta KEY_COUNT
    jmp $080D

.segment "VECTORS"
    .word nmi, reset, irq
