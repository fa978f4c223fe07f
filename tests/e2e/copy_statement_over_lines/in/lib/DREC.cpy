       01  D-REC PIC X.
