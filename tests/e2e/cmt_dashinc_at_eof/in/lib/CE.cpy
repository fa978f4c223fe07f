       01 CE-REC PIC X.
