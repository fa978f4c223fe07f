       01 NCD-REC PIC X.
