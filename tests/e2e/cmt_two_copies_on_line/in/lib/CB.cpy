       01 CB-REC PIC X.
