       01 CM-REC PIC X.
