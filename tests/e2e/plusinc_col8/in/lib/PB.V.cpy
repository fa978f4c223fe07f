       01 PBV-REC PIC X.
