       01 PA-REC PIC X.
