       01 TOP-REC.
       COPY L1.
       01 AFTER-REC PIC X.
