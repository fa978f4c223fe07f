       01 KP-REC PIC X.
