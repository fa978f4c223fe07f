       01 CUST-REC.
          05 CUST-NAME        PIC X(20).
