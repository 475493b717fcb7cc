; IRQ and NMI raised through the feedback address: latency around CLI, SEI, PLP and RTI,
; the NMI edge, and NMI before IRQ. Handlers record X, so X tells after which
; instruction an interrupt was entered.
.include "common.inc"

irq_count = $40
irq_x     = $41
nmi_count = $42
nmi_x     = $43
log_len   = $44
saved_y   = $45
log       = $50

.macro raise value
    lda #value
    sta FEEDBACK
.endmacro

.segment "CODE"
reset:
    init
    lda #0
    sta irq_count
    sta nmi_count
    sta log_len

    ; pending from the store on: its own poll is over, the next instruction takes it
    cli
    ldx #0
    raise 1
    inx
    inx
    sei
    expect_m irq_count, 1
    expect_m irq_x, 1

    ; CLI: the poll still sees I set, so the IRQ comes after the next instruction
    raise 1
    ldx #0
    nop
    nop
    expect_m irq_count, 1
    cli
    inx
    inx
    sei
    expect_m irq_count, 2
    expect_m irq_x, 1

    ; SEI: the poll sees I clear, so the IRQ comes right after it
    cli
    ldx #0
    raise 1
    sei
    inx
    expect_m irq_count, 3
    expect_m irq_x, 0

    ; PLP pulling I clear: the IRQ comes after the next instruction
    raise 1
    ldx #0
    lda #0
    pha
    plp
    inx
    inx
    sei
    expect_m irq_count, 4
    expect_m irq_x, 1

    ; RTI pulling I clear: requested in its own poll
    raise 1
    ldx #0
    lda #>rti_target
    pha
    lda #<rti_target
    pha
    lda #0
    pha
    rti
rti_target:
    inx
    sei
    expect_m irq_count, 5
    expect_m irq_x, 0

    ; NMI ignores I; a line held high gives one NMI
    ldx #0
    raise 2
    inx
    inx
    expect_m nmi_count, 1
    expect_m nmi_x, 1
    raise 2
    nop
    nop
    expect_m nmi_count, 1
    raise 0
    raise 2
    nop
    expect_m nmi_count, 2
    raise 0

    ; both at one poll with I clear: NMI first, the IRQ after the NMI handler's RTI
    lda #0
    sta log_len
    cli
    raise 3
    nop
    nop
    sei
    expect_m log_len, 2
    expect_m log, 'N'
    expect_m log+1, 'I'
    expect_m irq_count, 6
    expect_m nmi_count, 3
    jmp pass

    pass_fail_routines

irq_handler:
    stx irq_x
    pha
    lda #0
    sta FEEDBACK                ; release the lines
    inc irq_count
    lda #'I'
    jsr log_event
    pla
    rti

nmi_handler:
    stx nmi_x
    pha
    inc nmi_count
    lda #'N'
    jsr log_event
    pla
    rti

log_event:
    sty saved_y
    ldy log_len
    sta log,y
    inc log_len
    ldy saved_y
    rts

.segment "VECTORS"
    .word nmi_handler, reset, irq_handler
