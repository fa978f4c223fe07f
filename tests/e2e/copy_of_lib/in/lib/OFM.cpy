       01 OF-REC PIC X.
