       01  B-REC PIC X.
