       01 SM-REC PIC X.
