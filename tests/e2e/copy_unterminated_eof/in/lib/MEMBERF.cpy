       01 F-REC PIC X.
