; three-notes: a PSID tune that plays 440 Hz, 659.3 Hz and 880 Hz for one second each, over and
; over, as a pulse wave on voice 1. The header is the file's first $7C bytes; the code loads at
; $1000 and is called by a PAL machine once a video frame.

.setcpu "6502"

SID_FREQ_LO = $D400
SID_FREQ_HI = $D401
SID_PW_LO   = $D402
SID_PW_HI   = $D403
SID_CONTROL = $D404
SID_AD      = $D405
SID_SR      = $D406
SID_VOLUME  = $D418

PULSE_GATE  = $41
FRAMES      = 50           ; one second of PAL frames

; A 32-byte header text, zero-padded.
.macro text32 str
    .byte str
    .res 32 - .strlen(str), 0
.endmacro

; A big-endian word.
.macro be16 value
    .byte >(value), <(value)
.endmacro

.segment "HEADER"
    .byte "PSID"
    be16 2                  ; version
    be16 $007C              ; data offset
    be16 $1000              ; load address
    be16 init
    be16 play
    be16 1                  ; songs
    be16 1                  ; start song
    .byte 0, 0, 0, 0        ; speed: every song on the video frame
    text32 "three notes"
    text32 "orbella C64 project"
    text32 "GPL-3.0-or-later"
    be16 $0014              ; flags: PAL, 6581
    .byte 0, 0              ; start page, page length
    .byte 0, 0              ; no second or third SID

.segment "CODE"

init:
    lda #$0F
    sta SID_VOLUME
    lda #$00                ; pulse width $0800: a square wave
    sta SID_PW_LO
    lda #$08
    sta SID_PW_HI
    lda #$00
    sta SID_AD
    lda #$F0                ; full sustain, no release
    sta SID_SR
    lda #0
    sta frame
    tax
    jsr set_note
    lda #PULSE_GATE
    sta SID_CONTROL
    rts

; Frame 50: the second note, frame 100: the third, frame 150: the first again.
play:
    inc frame
    lda frame
    ldx #1
    cmp #FRAMES
    beq set_note
    ldx #2
    cmp #2 * FRAMES
    beq set_note
    cmp #3 * FRAMES
    bne done
    lda #0
    sta frame
    tax
; X: the note.
set_note:
    lda freq_lo,x
    sta SID_FREQ_LO
    lda freq_hi,x
    sta SID_FREQ_HI
done:
    rts

; Frequency words at the PAL clock (985248 Hz): value x 985248 / 2^24 Hz.
freq_lo:
    .byte <7493, <11226, <14985
freq_hi:
    .byte >7493, >11226, >14985

frame:
    .byte 0
