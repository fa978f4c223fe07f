       01 LITM-REC PIC X.
