       01 LT-REC PIC X.
