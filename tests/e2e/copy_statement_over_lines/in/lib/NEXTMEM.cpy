       01  NM-REC PIC X.
