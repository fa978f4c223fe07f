       01 Q-REC PIC X.
