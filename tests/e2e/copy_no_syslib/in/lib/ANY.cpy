       01 ANY-REC PIC X.
