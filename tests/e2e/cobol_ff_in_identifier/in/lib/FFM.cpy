       01 FFÿM PIC X.
