       01 M-REC PIC X.
