     1*    COPY A.
     X-INC A
