       01 APOS-REC PIC X.
