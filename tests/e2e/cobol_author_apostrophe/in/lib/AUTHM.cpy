       01 AUTH-REC PIC X.
