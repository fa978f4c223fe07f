       01 CA-REC PIC X.
