       01 LUDE-REC PIC X.
