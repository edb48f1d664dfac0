; show-c64: shows a charset on the Commodore 64, all 256 characters laid out
; as in the tileset (8 rows of 32), white on black, in the middle of the
; screen. LOAD "SHOW-C64",8 and RUN; RUN/STOP + RESTORE gives the machine back.
;
; The charset is the file charset.bin (2,048 bytes, 256 characters; a shorter
; file shows its missing characters empty), taken from the folder ACME runs in,
; or failing that from a folder given with -I:
;
;   acme -f cbm -o show-c64.prg -I path/to/charset/folder show-c64.asm
;
; With -DMULTICOLOUR=1 the characters are shown in multicolour mode, each pair
; of bits one double-width pixel: 00 black ($d021), 01 red ($d022), 10 cyan
; ($d023), 11 white (the colour RAM, 8 + white).

!cpu 6502

screen  = $0400                 ; the screen after reset: 40 x 25 screen codes
colours = $d800                 ; colour RAM, one colour per screen cell
charset = $2000                 ; the VIC's bank 0 sees RAM here (ROM at $1000-$1fff)
top     = 8                     ; first screen row shown
left    = 4                     ; first screen column shown
!ifdef MULTICOLOUR {
colour  = 8 + 1                 ; white, multicolour (colour RAM bit 3 set)
} else {
colour  = 1                     ; white
}

        * = $0801               ; BASIC's start: a PRG that LOAD puts in place
; 10 SYS 2061
        !word basic_end         ; address of the next BASIC line
        !word 10                ; line number
        !byte $9e               ; SYS
        !text "2061"            ; decimal address of start
        !byte 0                 ; end of line
basic_end
        !word 0                 ; end of program

start
!if start != 2061 { !error "the SYS line must name start" }
        lda #$80                ; keep SHIFT + C= from switching $d018
        sta $0291
        lda #0                  ; black border and background
        sta $d020
        sta $d021
        ldx #0                  ; fill the screen with character 32 in black: every
-       lda #32                 ; cell but the shown ones stays invisible, whatever
        sta screen,x            ; character 32 looks like
        sta screen + $100,x
        sta screen + $200,x
        sta screen + $2e8,x     ; up to $07e7; the sprite pointers stay untouched
        lda #0
        sta colours,x
        sta colours + $100,x
        sta colours + $200,x
        sta colours + $2e8,x
        inx
        bne -
!for row, 0, 7 {                ; tile row 'row' holds characters row * 32 + 0..31
        ldx #0
-       txa
        ora #row * 32
        sta screen + (top + row) * 40 + left,x
        lda #colour
        sta colours + (top + row) * 40 + left,x
        inx
        cpx #32
        bne -
}
        lda #$18                ; screen at $0400, characters at $2000
        sta $d018
!ifdef MULTICOLOUR {
        lda #2                  ; bits 01: red
        sta $d022
        lda #3                  ; bits 10: cyan
        sta $d023
        lda $d016               ; multicolour mode on
        ora #$10
        sta $d016
}
        jmp *                   ; stay: returning to BASIC would scroll the screen

        * = charset             ; (the gap up to here is filled with zeros)
        !binary "charset.bin"
!if * > charset + $800 {
        !error "charset.bin holds more than 256 characters of 8 bytes"
} else {
        !fill charset + $800 - *, 0
}
