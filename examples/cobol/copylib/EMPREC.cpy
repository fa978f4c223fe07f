      * Employee record.
       01 EMP-RECORD.
          05 EMP-NAME         PIC X(20).
          05 EMP-GROSS        PIC 9(7)V99.
          COPY TAXREC.
