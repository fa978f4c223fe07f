       01 FM-A PIC X.
       01 FM-B PIC X.
