      * CUSTOMER RECORD
       01  :TAG:-REC.
           05  :TAG:-NAME      PIC X(10).
           05  :TAG:-ID        PIC 9(5).
