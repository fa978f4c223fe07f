       01 DM-REC PIC X.
