       01 NCP-REC PIC X.
