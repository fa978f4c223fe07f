       01 SEQ-REC PIC X.
