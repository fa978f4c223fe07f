       01  C-REC PIC X.
