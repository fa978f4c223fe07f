       01 RUN-DATE            PIC 9(8).
