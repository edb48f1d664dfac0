; show-vic20: shows a charset on the unexpanded VIC-20, its first 64 characters
; as 4 rows of 16 (each tileset row split in two halves), white on black, in
; the middle of the screen. LOAD "SHOW-VIC20",8 and RUN; RUN/STOP + RESTORE
; gives the machine back.
;
; The charset is the first 512 bytes of the file charset.bin (only 64
; characters fit below the screen; a shorter file is padded with empty ones,
; and ACME warns), taken from the folder ACME runs in, or failing that from a
; folder given with -I:
;
;   acme -f cbm -o show-vic20.prg -I path/to/charset/folder show-vic20.asm
;
; With -DMULTICOLOUR=1 the characters are shown in multicolour mode, each pair
; of bits one double-width pixel: 00 black (screen colour), 01 red (border
; colour), 10 cyan (the colour RAM, 8 + cyan), 11 white (auxiliary colour).
;
; It is for the unexpanded machine: with memory added, BASIC starts elsewhere,
; LOAD moves the program there and its SYS misses. Its bytes reach the screen
; at $1e00, which leaves BASIC no room: after RUN/STOP + RESTORE, type NEW.

!cpu 6502

screen  = $1e00                 ; the unexpanded machine's screen: 22 x 23 screen codes
colours = $9600                 ; its colour RAM, one colour per screen cell
charset = $1c00                 ; 64 characters of RAM right below the screen
top     = 9                     ; first screen row shown
left    = 3                     ; first screen column shown
!ifdef MULTICOLOUR {
colour  = 8 + 3                 ; cyan, multicolour (colour RAM bit 3 set)
border  = 2                     ; red: the border colour is bits 01
} else {
colour  = 1                     ; white, hi-res (colour RAM bit 3 clear)
border  = 0                     ; black
}

        * = $1001               ; BASIC's start on the unexpanded machine
; 10 SYS 4109
        !word basic_end         ; address of the next BASIC line
        !word 10                ; line number
        !byte $9e               ; SYS
        !text "4109"            ; decimal address of start
        !byte 0                 ; end of line
basic_end
        !word 0                 ; end of program

start
!if start != 4109 { !error "the SYS line must name start" }
        lda #$80                ; keep SHIFT + C= from switching the character set
        sta $0291
        lda #$08 | border       ; black background, normal (not inverted) colours
        sta $900f
!ifdef MULTICOLOUR {
        lda $900e               ; bits 11: white, the auxiliary colour; the
        and #$0f                ; sound volume stays as it is
        ora #$10
        sta $900e
}
        ldx #0                  ; fill the screen with character 32 in black: every
-       lda #32                 ; cell but the shown ones stays invisible, whatever
        sta screen,x            ; character 32 looks like ($1ffa-$1fff, past the
        sta screen + $100,x     ; screen's 506 cells, is free RAM)
        lda #0
        sta colours,x
        sta colours + $100,x
        inx
        bne -
!for row, 0, 3 {                ; screen row 'row' holds characters row * 16 + 0..15
        ldx #0
-       txa
        ora #row * 16
        sta screen + (top + row) * 22 + left,x
        lda #colour
        sta colours + (top + row) * 22 + left,x
        inx
        cpx #16
        bne -
}
        lda #$ff                ; POKE 36869,255: screen stays at $1e00, characters at $1c00
        sta $9005
        jmp *                   ; stay: returning to BASIC would scroll the screen

        * = charset             ; (the gap up to here is filled with zeros)
        !binary "charset.bin", $200
