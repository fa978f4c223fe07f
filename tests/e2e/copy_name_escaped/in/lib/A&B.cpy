       01 AMP-REC PIC X.
