       01 DQ-REC PIC X.
