       01 X-REC PIC X.
