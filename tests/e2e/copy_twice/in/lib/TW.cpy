       01 TW-REC PIC X.
