       01 SH-REC PIC X.
